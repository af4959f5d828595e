s = 0
for i in range(1000000):
    s = s + i
print(s)
