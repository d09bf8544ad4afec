// The values of the environment that its sources cannot write: the global context as the object
// system/words, the null handle, and what belongs to this process (the command line in
// system/script/args, system/options/boot and args). Start-up calls the first before the boot
// image's code runs and the second after it.
#pragma once

namespace boot {

// Makes the global context's owner the object system/words (class id -1, no change handlers)
// and sets null-handle. May allocate.
void define_system_values();

// Sets system/script/args to the process's command line, when the system object has that
// field, and has the library's extract-boot-args split it into system/options/boot and args.
// May allocate.
void fill_process_fields();

}  // namespace boot
