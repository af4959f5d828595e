i = 0
n = 0
while i < 100000:
    i = i + 1
    if i % 2 == 0:
        n = n + 1
    try:
        if i % 10 == 0:
            x = 1 / 0
        n = n + 1
    except ZeroDivisionError:
        n = n - 1
print(n)
