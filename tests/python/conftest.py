"""Shared fixtures for the Python suites."""
