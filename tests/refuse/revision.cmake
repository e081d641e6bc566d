# build_stamp.h is already written by the stamp header of headed, without REVISION, this call with it
ventrim_add_stamp_header(linked head_stamp/build_stamp.h REVISION)
