# [(]linked[)]: .*/linked.c is also one of linked's own sources.*/refuse/listed.cmake:2 [(]ventrim_add_link_stamp[)] CMakeLists.txt:[0-9]+ [(]include[)]
ventrim_add_link_stamp(linked linked.c l/h.h)
