# compatible with requested version range .0.9...2.
find_package(Ventrim 0.9...2 REQUIRED)
