-- repeat: counted loop
local n = 3000000
local s = 0
for i = 1, n do s = s + (i % 1000) end
print(s)
