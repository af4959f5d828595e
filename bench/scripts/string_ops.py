s = 'the quick brown fox jumps over the lazy dog'
n = 0
k = 0
w = ''
for i in range(200000):
    w = s[i % 40:i % 40 + 3]
    if w[:1] + w[-1:] < 'm':
        n = n + 1
    k = k + s.find(w) + int(str(i % 10) + '1')
    n = max(0, min(n + max(i % 3, 1) - min(i % 5, 2), 1000))
print('%d,%d' % (n, k))
