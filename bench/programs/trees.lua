-- trees: allocate and walk binary trees (collector load)
local n = 20
local function make_tree(d)
  if d == 0 then return {false, false} end
  return {make_tree(d - 1), make_tree(d - 1)}
end
local function check(t) if t[1] then return 1 + check(t[1]) + check(t[2]) end return 1 end
local s = 0
for i = 1, n do s = s + check(make_tree(14)) end
print(s)
