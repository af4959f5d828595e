a = {}
for i in range(20000):
    a[i] = i
s = 0
for i in range(20000):
    s = s + a[i]
print(s)
