local s = 0
for i = 0, 299999 do
  local q = i / 3
  s = s + math.abs(0 - i) + (q >= 0 and math.floor(q) or math.ceil(q))
end
print(math.tointeger(s) or s)
