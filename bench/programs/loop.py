# loop: while loop with integer arithmetic
n = 3000000
s = 0
i = 1
while i <= n:
    s = s + (i % 1000)
    i = i + 1
print(s)
