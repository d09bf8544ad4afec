-- sort: sort a block of integers
local n = 300000
local x = 1
local b = {}
for i = 1, n do x = (x * 75 + 74) % 65537 b[i] = x end
table.sort(b)
print(b[1] .. " " .. b[n // 2] .. " " .. b[n])
