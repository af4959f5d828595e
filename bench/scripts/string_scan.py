s = 'abcdefghij' * 20000
n = 0
i = 0
while i < len(s):
    if s[i:i + 1] == 'c':
        n += 1
    i += 1
print(n)
