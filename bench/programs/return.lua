-- return: early return from a function
local n = 1000000
local function f(x) if x > 10 then return x * 2 end return x + 1 end
local s = 0
for i = 1, n do s = s + f(i % 20) end
print(s)
