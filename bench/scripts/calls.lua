local function add(a, b) return a + b end
local s = 0
for i = 0, 99999 do s = add(s, i) end
print(s)
