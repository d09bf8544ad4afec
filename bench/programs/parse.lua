-- parse: match a rule over a generated text
local n = 200000
local parts = {}
for i = 1, n do parts[#parts + 1] = "field," .. tostring(i) .. ",x;" end
local text = table.concat(parts)
local s = 0
for d in text:gmatch(",(%d+),x;") do s = s + #d end
print(s)
