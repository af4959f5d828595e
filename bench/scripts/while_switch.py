i = 0
n = 0
while i < 300000 and n >= 0:
    m = i % 4
    if m == 0:
        n = n + 1
    elif m == 1:
        n = n + 2
    else:
        n = n + 3
    i = i + 1
print(n)
