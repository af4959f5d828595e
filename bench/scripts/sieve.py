n = 300000
p = []
for i in range(n + 1):
    p.append(1)
c = 0
for i in range(2, n + 1):
    if p[i]:
        c += 1
        j = i * i
        while j <= n:
            p[j] = 0
            j = j + i
print(c)
