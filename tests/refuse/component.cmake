# Ventrim has no components, and was asked for: no_such\. Drop COMPONENTS
find_package(Ventrim REQUIRED COMPONENTS no_such)
