local s = string.rep('abcdefghij', 20000)
local n = 0
local i = 0
while i < #s do
  if string.sub(s, i + 1, i + 1) == 'c' then n = n + 1 end
  i = i + 1
end
print(n)
