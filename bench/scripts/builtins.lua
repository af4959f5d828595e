local function trunc(x) if x >= 0 then return math.floor(x) else return math.ceil(x) end end
local s = 0
for i = 0, 199999 do
    s = s + math.abs(trunc(tonumber(string.format("%.15g", i * -1.5))))
end
print(s)
