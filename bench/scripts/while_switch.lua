local i, n = 0, 0
while i < 300000 and n >= 0 do
    local m = i % 4
    if m == 0 then n = n + 1 elseif m == 1 then n = n + 2 else n = n + 3 end
    i = i + 1
end
print(n)
