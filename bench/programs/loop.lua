-- loop: while loop with integer arithmetic
local n = 3000000
local s, i = 0, 1
while i <= n do s = s + (i % 1000) i = i + 1 end
print(s)
