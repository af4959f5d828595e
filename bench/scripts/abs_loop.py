s = 0
for i in range(100000):
    s = s + abs(-5)
print(s)
