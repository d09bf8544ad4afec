# blocks: append to a block, then iterate
n = 1000000
b = []
for i in range(1, n + 1):
    b.append(i)
s = 0
for x in b:
    s = s + x % 1000
print(s)
