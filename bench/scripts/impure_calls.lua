local total = 0
local function bump(x)
  local t = x % 7
  total = total + t
  return t
end
for i = 0, 299999 do bump(i) end
print(total)
