-- maps: string keys into a map
local n = 200000
local m = {}
for i = 1, n do m[tostring(i)] = i end
local s = 0
for i = 1, n do s = s + m[tostring(i)] % 1000 end
print(s)
