-- A list of 1 000 rules (a numeric range and two string alternatives each)
-- scanned in order, 10 000 lookups, hits and misses mixed; sums the rows
-- found (numbered from 2, as in the QOL table) and the outputs of the hits.
local rules = {}
for i = 0, 999 do
  rules[#rules + 1] = {lo = i * 10, hi = i * 10 + 9, a = "a" .. (i % 7), b = "b" .. (i % 5), value = i}
end
local function locate(n, k)
  for row, r in ipairs(rules) do
    if n >= r.lo and n <= r.hi and (k == r.a or k == r.b) then return row + 1, r.value end
  end
  return -1, nil
end
local t = 0
for j = 0, 9999 do
  local row, value = locate((j * 37) % 10000, "a" .. (j % 7))
  if row > 0 then t = t + row + value end
end
print(t)
