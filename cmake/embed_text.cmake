# Wraps a text file into a C++ source defining `const char NAME[]`.
file(READ ${IN} content)
set(delim "EMBEDDED_TEXT")
file(WRITE ${OUT} "extern const char ${NAME}[];\nconst char ${NAME}[] = R\"${delim}(${content})${delim}\";\n")
