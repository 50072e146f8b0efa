file(REMOVE_RECURSE
  "libkorvane_core.a"
)
