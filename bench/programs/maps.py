# maps: string keys into a map
n = 200000
m = {}
for i in range(1, n + 1):
    m[str(i)] = i
s = 0
for i in range(1, n + 1):
    s = s + m[str(i)] % 1000
print(s)
