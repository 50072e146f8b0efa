# Empty dependencies file for korvane_core.
# This may be replaced when dependencies are built.
