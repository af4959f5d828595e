# A list of 1 000 rules (a numeric range and two string alternatives each)
# scanned in order, 10 000 lookups, hits and misses mixed; sums the rows
# found (numbered from 2, as in the QOL table) and the outputs of the hits.
rules = []
for i in range(1000):
    rules.append((i * 10, i * 10 + 9, ("a%d" % (i % 7), "b%d" % (i % 5)), i))


def locate(n, k):
    for row, (lo, hi, texts, value) in enumerate(rules):
        if lo <= n <= hi and k in texts:
            return row + 2, value
    return -1, None


t = 0
for j in range(10000):
    row, value = locate((j * 37) % 10000, "a%d" % (j % 7))
    if row > 0:
        t = t + row + value
print(t)
