local n = 300000
local p = {}
for i = 0, n do p[i] = 1 end
local c = 0
for i = 2, n do
  if p[i] ~= 0 then
    c = c + 1
    for j = i * i, n, i do p[j] = 0 end
  end
end
print(c)
