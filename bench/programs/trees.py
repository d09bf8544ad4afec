# trees: allocate and walk binary trees (collector load)
n = 20
def make_tree(d):
    return [None, None] if d == 0 else [make_tree(d - 1), make_tree(d - 1)]
def check(t):
    return 1 + check(t[0]) + check(t[1]) if t[0] else 1
s = 0
for i in range(n):
    s = s + check(make_tree(14))
print(s)
