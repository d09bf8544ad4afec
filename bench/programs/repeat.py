# repeat: counted loop
n = 3000000
s = 0
for i in range(1, n + 1):
    s = s + (i % 1000)
print(s)
