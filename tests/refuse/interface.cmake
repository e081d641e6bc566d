# settings is an interface library. ventrim_add_stamp_header serves
ventrim_add_stamp_header(settings h.h)
