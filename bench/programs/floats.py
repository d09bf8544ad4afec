# floats: a float-heavy integration loop
n = 2000000
x, v, dt = 0.0, 1.0, 0.001
for i in range(n):
    a = 0.0 - x
    v = v + a * dt
    x = x + v * dt
print(int(x * 1000000.0))
