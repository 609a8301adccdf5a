// Tool-bar glyphs and the magnifier cursor, drawn by the program.
