local i, n = 0, 0
while i < 100000 do
    i = i + 1
    if i % 2 == 0 then n = n + 1 end
    local ok = pcall(function() if i % 10 == 0 then error("div") end; n = n + 1 end)
    if not ok then n = n - 1 end
end
print(n)
