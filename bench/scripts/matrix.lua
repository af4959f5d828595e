local n = 60
local a, b, m = {}, {}, {}
for i = 0, n - 1 do
  a[i], b[i], m[i] = {}, {}, {}
  for j = 0, n - 1 do a[i][j] = i + j; b[i][j] = i - j end
end
for i = 0, n - 1 do
  for j = 0, n - 1 do
    local s = 0
    for k = 0, n - 1 do s = s + a[i][k] * b[k][j] end
    m[i][j] = s
  end
end
local t = 0
for i = 0, n - 1 do for j = 0, n - 1 do t = t + m[i][j] * (i + 1) end end
print(t)
