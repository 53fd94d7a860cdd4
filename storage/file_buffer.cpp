// Filled in by the file buffer work.
