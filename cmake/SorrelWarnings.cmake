# One warning policy for every target of the project.
add_compile_options(-Wall -Wextra)
if(SORREL_WERROR)
  add_compile_options(-Werror)
endif()
