-- floats: a float-heavy integration loop
local n = 2000000
local x, v, dt = 0.0, 1.0, 0.001
for i = 1, n do local a = 0.0 - x v = v + a * dt x = x + v * dt end
print(math.tointeger(x * 1000000.0 // 1))
