// The upcall pointers (see upcall.h); empty until the layers above fill them at start-up.
#include "datatypes/upcall.h"

namespace upcall {

Interpreter interpreter{};
Lexer lexer{};

}  // namespace upcall
