-- blocks: append to a block, then iterate
local n = 1000000
local b = {}
for i = 1, n do b[#b + 1] = i end
local s = 0
for _, x in ipairs(b) do s = s + x % 1000 end
print(s)
