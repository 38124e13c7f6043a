// Placeholder translation unit so the library exists before its sources do; delete when real sources land.
