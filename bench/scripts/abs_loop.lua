local s = 0
for i = 0, 99999 do s = s + math.abs(-5) end
print(s)
