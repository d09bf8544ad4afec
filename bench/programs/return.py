# return: early return from a function
n = 1000000
def f(x):
    if x > 10:
        return x * 2
    return x + 1
s = 0
for i in range(1, n + 1):
    s = s + f(i % 20)
print(s)
