# parse: match a rule over a generated text
import re
n = 200000
text = "".join("field," + str(i) + ",x;" for i in range(1, n + 1))
s = 0
for m in re.finditer(r",([0-9]+),x;", text):
    s = s + len(m.group(1))
print(s)
