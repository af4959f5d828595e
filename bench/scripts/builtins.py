s = 0
for i in range(200000):
    s = s + abs(int(float('%.15g' % (i * -1.5))))
print(s)
