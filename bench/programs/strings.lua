-- strings: building a long string
local n = 300000
local parts = {}
for i = 1, n do parts[#parts + 1] = "ab" parts[#parts + 1] = tostring(i) end
print(#table.concat(parts))
