# strings: building a long string
n = 300000
parts = []
for i in range(1, n + 1):
    parts.append("ab")
    parts.append(str(i))
print(len("".join(parts)))
