# Compiler settings shared by every target, kept in one interface target.
add_library(korvel_settings INTERFACE)
target_include_directories(korvel_settings INTERFACE ${PROJECT_SOURCE_DIR})
target_compile_options(korvel_settings INTERFACE -Wall -Wextra -Wno-missing-field-initializers)
if(KORVEL_WERROR)
  target_compile_options(korvel_settings INTERFACE -Werror)
endif()
if(KORVEL_SANITIZE)
  target_compile_options(korvel_settings INTERFACE -fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
  target_link_options(korvel_settings INTERFACE -fsanitize=address,undefined)
endif()
# Debug information names the checkout ".", so an object does not depend on the folder it was
# built in and a compiler cache can hand it to a clone elsewhere.
target_compile_options(korvel_settings INTERFACE -fdebug-prefix-map=${PROJECT_SOURCE_DIR}=.)
