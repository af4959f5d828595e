s = 0
for i in range(300000):
    s = s + abs(0 - i) + int(i / 3)
print(s)
