# Empty dependencies file for hash_table_test.
# This may be replaced when dependencies are built.
