total = 0
def bump(x):
    global total
    t = x % 7
    total = total + t
    return t
for i in range(300000):
    bump(i)
print(total)
