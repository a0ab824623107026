# Display tests are added here.
