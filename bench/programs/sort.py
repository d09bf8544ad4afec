# sort: sort a block of integers
n = 300000
x = 1
b = []
for i in range(n):
    x = (x * 75 + 74) % 65537
    b.append(x)
b.sort()
print(b[0], b[n // 2 - 1], b[n - 1])
