s = ''
for i in range(20000):
    s = s + 'x'
print(1 if s == 'x' * 20000 else 0)
