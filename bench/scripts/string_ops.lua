local s = 'the quick brown fox jumps over the lazy dog'
local n, k, w = 0, 0, ''
for i = 0, 199999 do
  w = string.sub(s, i % 40 + 1, i % 40 + 3)
  if string.sub(w, 1, 1) .. string.sub(w, -1) < 'm' then n = n + 1 end
  k = k + (string.find(s, w, 1, true) - 1) + tonumber(tostring(i % 10) .. '1')
  n = math.max(0, math.min(n + math.max(i % 3, 1) - math.min(i % 5, 2), 1000))
end
print(string.format('%d,%d', n, k))
