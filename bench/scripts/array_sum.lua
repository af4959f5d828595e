local a = {}
for i = 0, 19999 do a[i] = i end
local s = 0
for i = 0, 19999 do s = s + a[i] end
print(s)
