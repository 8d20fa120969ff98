@echo off
rem The consumer's Windows setup program: shows the data file packed beside it.
type payload.txt
