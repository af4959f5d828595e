n = 60
a = [[i + j for j in range(n)] for i in range(n)]
b = [[i - j for j in range(n)] for i in range(n)]
m = [[0] * n for _ in range(n)]
for i in range(n):
    for j in range(n):
        s = 0
        for k in range(n):
            s = s + a[i][k] * b[k][j]
        m[i][j] = s
t = 0
for i in range(n):
    for j in range(n):
        t = t + m[i][j] * (i + 1)
print(t)
