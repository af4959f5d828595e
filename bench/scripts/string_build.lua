local s = ''
for i = 1, 20000 do s = s .. 'x' end
print(s == string.rep('x', 20000) and 1 or 0)
